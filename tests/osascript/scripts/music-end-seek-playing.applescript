tell application "Music"
  resume
end tell
