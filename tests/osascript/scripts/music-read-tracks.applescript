tell application "Music"
  set unitSeparator to ASCII character 31
  set out to ""
  repeat with t in (every track of user playlist "Mixed")
    set out to out & (name of t as text) & unitSeparator & (artist of t as text) & unitSeparator
  end repeat
  set matches to (every track of library playlist 1 whose persistent ID is "⟦trackID⟧")
  set found to item 1 of matches
  return out & (name of found as text) & unitSeparator & (artist of found as text) & unitSeparator & ((exists found) as text)
end tell
