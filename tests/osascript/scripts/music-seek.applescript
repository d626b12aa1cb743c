tell application "Music"
  set player position to ⟦position⟧
end tell
