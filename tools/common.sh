# Shell helpers shared by the demo, the benchmarks, the screenshots and the bundle check.
# Source it: . "$top/tools/common.sh"

# The Wine path of a Linux path (Wine maps the Linux root to drive Z:).
winpath() { echo "Z:${1//\//\\}"; }

# write_settings FILE [DELETE_SFV [KEEP_PATTERNS]]: a settings file as the dialog writes it,
# with verification, deletion of sources and clean-up on; the SFV deletion (default 1) and
# the keep patterns (default *.nfo) as given.
write_settings() {
  local file=$1 delete_sfv=${2:-1} keep=${3:-*.nfo} element
  {
    printf '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n'
    for element in DeleteTemp=1 KeepOverWritten=1 Delete-src-during=1 Keep-src-nosfv=1 Check-CRC=1 \
      "Delete-sfv=$delete_sfv" "File-to-keep=$keep"; do
      printf '\t\t<%s>%s</%s>\r\n' "${element%%=*}" "${element#*=}" "${element%%=*}"
    done
    printf '\t</General>\r\n</RavelpakSettings>\r\n'
  } > "$file"
}
