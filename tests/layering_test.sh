#!/usr/bin/env bash
# Each folder's library sees only the folders below it: an include of a
# folder above must not compile, one of a folder below must.
#   layering_test.sh CXX FOLDER_VIEWS_DIR
set -u
cxx=$1
views=$2
failures=0

# compiles VIEW HEADER: 0 when a file including HEADER compiles with VIEW.
compiles() {
  printf '#include "%s"\n' "$2" | "$cxx" -std=c++20 -fsyntax-only -I "$views/$1" -isystem /usr/include/jsoncpp -x c++ - \
    >/dev/null 2>&1
}

expect() {
  local want=$1 view=$2 header=$3
  if compiles "$view" "$header"; then got=sees; else got=blind; fi
  if [ "$got" != "$want" ]; then
    echo "FAIL: $view should be $want to $header" >&2
    failures=$((failures + 1))
  fi
}

# what   library            header
expect blind tamsa_platform    core/update_task.h
expect blind tamsa_base        download/package_download.h
expect blind tamsa_base        update_check/update_query.h
expect blind tamsa_base        app/updater_app.h
expect blind tamsa_download    update_check/update_settings.h
expect blind tamsa_download    toolkit/control.h
expect blind tamsa_download    app/updater_app.h
expect blind tamsa_update_check download/md5.h
expect blind tamsa_update_check app/updater_app.h
expect blind skinui            core/text_utils.h
expect blind skinui            skin/resource_table.h
expect blind tamsa_skin        toolkit/control.h
expect sees  tamsa_base        platform/types.h
expect sees  tamsa_download    core/update_task.h
expect sees  tamsa_update_check core/update_task.h
expect sees  skinui            platform/types.h
expect sees  tamsa_app         download/package_download.h

[ "$failures" -eq 0 ] || exit 1
echo "layering holds"
