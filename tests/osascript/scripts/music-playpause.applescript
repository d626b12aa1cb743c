tell application "Music"
  playpause
end tell
