tell application "Music"
  set pendingMatches to (every user playlist whose name is "⟦pending⟧")
  repeat with pendingQueue in pendingMatches
    delete pendingQueue
  end repeat
end tell
