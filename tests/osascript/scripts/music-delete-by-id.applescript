tell application "Music"
  set oldMatches to (every user playlist whose persistent ID is "⟦oldID⟧")
  repeat with oldQueue in oldMatches
    delete oldQueue
  end repeat
end tell
