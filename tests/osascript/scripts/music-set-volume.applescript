tell application "Music"
  set sound volume to ⟦volume⟧
end tell
