#!/usr/bin/env bash
# Model 0x0300: the run ends in success, and while the controller saves, the notice is up:
# centred, on top of the calibration window, with its caption and its text readable.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

# The window on top at a point of the screen while the notice is up, as the compositor has it
# (REPORT, see wayland_report): weston's scene graph, top first; the others list no popups, so
# there the notice is the popup the compositor placed (notice_popup_from_log) on the calibration
# window, which a popup lies above (mutter lists no windows: there the calibration window is
# taken to be where a full-screen one is).
wayland_top_at() {  # X Y REPORT
    local px=$1 py=$2
    if [ "$SCREEN_KIND" != weston-kiosk ]; then
        local popup x y w h title cx cy cw ch windows
        popup=$(notice_popup_from_log "$WORK/notice-program.log")
        windows=$(wayland_windows "$3")
        lists_windows || windows="0 0 ${QAVEL_SCREEN%x*} ${QAVEL_SCREEN#*x} Calibration"
        while read -r cx cy cw ch title; do
            if [ "$title" = Calibration ] && [ -n "$popup" ]; then
                read -r x y w h <<<"$popup"
                x=$((cx + x))
                y=$((cy + y))
                if [ "$px" -ge "$x" ] && [ "$px" -lt $((x + w)) ] && [ "$py" -ge "$y" ] && [ "$py" -lt $((y + h)) ]; then
                    echo "$NOTICE"
                    return
                fi
            fi
            if [ "$px" -ge "$cx" ] && [ "$px" -lt $((cx + cw)) ] && [ "$py" -ge "$cy" ] && [ "$py" -lt $((cy + ch)) ]; then
                echo "$title"
                return
            fi
        done <<<"$windows"
        echo "nothing of the program"
        return
    fi
    weston_views "$3" | awk -v px="$px" -v py="$py" -v pid="$PROGRAM_PID" -v notice="$NOTICE" '
        px >= $3 && px < $3 + $5 && py >= $4 && py < $4 + $6 {
            if ($2 == "xdg_popup") print ($1 == pid ? notice : "a popup of process " $1)
            else { $1 = ""; $2 = ""; $3 = ""; $4 = ""; $5 = ""; $6 = ""; sub(/^ +/, ""); print }
            found = 1; exit }
        END { if (!found) print "nothing of the program" }'
}

start_0300_until_notice
if on_wayland; then
    # The shot that showed the notice: saving may end before the program is stopped.
    shot=$WORK/notice.png
    cp "$WORK/live.png" "$shot"
    wayland_report "$WORK/notice-windows.txt"
    # The protocol log as it stood then: the notice closes once the program goes on.
    cp "$WORK/program.log" "$WORK/notice-program.log"
    thaw
    # Found by its colours: the caption bar's navy and the grey frame below it.
    box() { convert "$shot" -fill black +opaque "#$1" -fill white -opaque "#$1" -trim -format '%X %Y %w %h' info: | tr -d +; }
    read -r x y w _ <<<"$(box 000080)"
    read -r _ frame_y _ frame_h <<<"$(box 808080)"
    h=$((frame_y + frame_h - y))
    # The calibration window is still there around the notice, and the notice is the window on
    # top at its centre as the compositor has them (drawn into the calibration window, it
    # would look the same).
    top=$(wayland_top_at $((x + w / 2)) $((y + h / 2)) "$WORK/notice-windows.txt")
    calibration_up=0
    [ "$(shot_pixel "$shot" 2 2)" = "$WHITE" ] && calibration_up=1
    convert "$shot" -crop "${w}x$h+$x+$y" +repage "$WORK/notice-only.png"
    text=$(screen_text "$WORK/notice-only.png")
    ocr_holds "$text" "Saving data - please do not touch the screen" ||
        fail "the notice reads \"$text\""
    # A compositor centres the notice on the window with rounding of its own.
    slack=1
else
    shot=$(screenshot notice)
    id=$("$PROBE" find "$NOTICE")
    read -r x y w h <<<"$("$PROBE" geometry "$id")"
    top=$("$PROBE" top-at $((x + w / 2)) $((y + h / 2)))
    calibration_up=0
    window_exists "Calibration" && calibration_up=1
    thaw
    slack=0
fi

[ $calibration_up = 1 ] || fail "the calibration window was gone while the notice was up"
dx=$((x - (1024 - w) / 2))
dy=$((y - (768 - h) / 2))
[ ${dx#-} -le $slack ] && [ ${dy#-} -le $slack ] || fail "notice at $x,$y size ${w}x$h is not centred"
[ "$top" = "$NOTICE" ] || fail "the window on top at the notice's centre is \"$top\""
[ "$w" -ge 200 ] && [ "$h" -ge 50 ] || fail "notice of ${w}x$h is too small to read"

# The caption bar is dark with light text; the text area below it is light with dark text.
caption_light=$(convert "$shot" -crop "$((w - 8))x8+$((x + 4))+$((y + 6))" -colorspace Gray \
    -format '%[fx:maxima]' info:)
text_dark=$(convert "$shot" -crop "$((w - 4))x$((h / 2))+$((x + 2))+$((y + h / 4))" \
    -colorspace Gray -format '%[fx:minima]' info:)
text_background=$(shot_pixel "$shot" $((x + 3)) $((y + h - 4)))
awk -v v="$caption_light" 'BEGIN { exit !(v > 0.8) }' || fail "no caption text in the notice"
awk -v v="$text_dark" 'BEGIN { exit !(v < 0.3) }' || fail "no dark text in the notice"
[ "$text_background" = f0f0f0 ] || fail "notice body is $text_background"

if on_wayland; then
    # With the outcome box up, the notice is gone: no popup of the program as weston has them,
    # and nothing of its navy on screen (sway's tree lists no popups; its box leaves the rest of
    # the screen in view, and a notice left on a calibration window never closed covers the box).
    wayland_message_up "the message box" 1565c0
    popups=$(wayland_popups "$WORK/message-windows.txt")
    [ -z "$popups" ] || fail "the notice outlived the run: $SCREEN_KIND shows the program's popup at \"$(tr '\n' ';' <<<"$popups")\""
    ! has_colour "$MESSAGE_SHOT" 000080 || fail "the notice outlived the run: its navy is on screen with the message box"
fi
expect_message "Calibration" "Calibration completed successfully." information Return
if ! on_wayland; then
    window_exists "$NOTICE" && fail "the notice outlived the run"
fi
expect_exit_zero
echo PASS
