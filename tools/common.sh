# Shell helpers shared by the demo, the benchmarks, the screenshots and the bundle check.
# Source it: . "$top/tools/common.sh"

# The Wine path of a Linux path (Wine maps the Linux root to drive Z:).
winpath() { echo "Z:${1//\//\\}"; }

# write_settings FILE [DELETE_SFV [KEEP_PATTERNS [DELETE_SOURCES]]]: a settings file as the
# dialog writes it, with verification, deletion of sources and clean-up on; the SFV deletion
# (default 1), the keep patterns (default *.nfo) and the deletion of sources (default 1) as given.
write_settings() {
  local file=$1 delete_sfv=${2:-1} keep=${3:-*.nfo} delete_sources=${4:-1} element
  {
    printf '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n'
    for element in DeleteTemp=1 KeepOverWritten=1 "Delete-src-during=$delete_sources" Keep-src-nosfv=1 Check-CRC=1 \
      "Delete-sfv=$delete_sfv" "File-to-keep=$keep"; do
      printf '\t\t<%s>%s</%s>\r\n' "${element%%=*}" "${element#*=}" "${element%%=*}"
    done
    printf '\t</General>\r\n</RavelpakSettings>\r\n'
  } > "$file"
}

# many_files_zip DIR: DIR/Many/many.zip, a ZIP file of 5,000 files of 4,000 random bytes in 20
# folders, made once and kept.
many_files_zip() {
  local many=$1 folder file
  [ -f "$many/Many/many.zip" ] && return
  rm -rf "$many" && mkdir -p "$many/files" "$many/Many"
  for folder in $(seq -w 0 19); do
    mkdir -p "$many/files/sub$folder"
    for file in $(seq -w 0 249); do head -c 4000 /dev/urandom > "$many/files/sub$folder/file$file.txt"; done
  done
  (cd "$many/files" && zip -q -r ../Many/many.zip .)
  rm -rf "$many/files"
}
