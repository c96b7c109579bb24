# What the scripts that drive the real program under a private X server share.
# Sourced, not run; the sourcing script defines fail().

# Starts Xvfb with one screen of the given size (e.g. 1920x1080x24), its log
# and display number in dir; exports DISPLAY and leaves the server's process
# id in xvfb.
start_xvfb() {
  local screen=$1 dir=$2
  rm -f "$dir/display"
  Xvfb -displayfd 5 -screen 0 "$screen" -nolisten tcp 5>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb=$!
  for _ in $(seq 100); do [[ -s $dir/display ]] && break; sleep 0.1; done
  [[ -s $dir/display ]] || fail "Xvfb did not start"
  export DISPLAY=":$(tr -d '[:space:]' <"$dir/display")"
}

# Pixels of one exact colour in a picture; the precision keeps a count over a
# million out of scientific notation.
count() {
  convert "$1" -precision 16 -alpha off -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}
