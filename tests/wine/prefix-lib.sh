# Shared by the prefix scripts: environment for a quiet, display-less Wine.
export WINEDEBUG=-all
# Keeps wineboot from offering to download Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Wine links the profile folders to the host's home; replace each link with a
# real, empty folder inside the prefix so nothing reads or writes the host.
unlink_profile_folders() {
  local prefix=$1 user_dir name
  for user_dir in "$prefix"/drive_c/users/*/; do
    for name in Desktop Documents Downloads Music Pictures Videos Templates; do
      if [ -L "$user_dir$name" ]; then
        rm -f "$user_dir$name"
        mkdir -p "$user_dir$name"
      fi
    done
  done
}

boot_prefix() {
  local prefix=$1
  export WINEPREFIX=$prefix
  mkdir -p "$prefix"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  unlink_profile_folders "$prefix"
}
