tell application "Music"
  ⟦step⟧
end tell
