tell application "Music"
  resume
  pause
end tell
