tell application "Music"
  set oldMatches to (every user playlist whose name is "⟦oldName⟧")
  repeat with oldQueue in oldMatches
    delete oldQueue
  end repeat
end tell
