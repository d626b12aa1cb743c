tell application "Music"
  if player state is not playing then return "false"
  return ((persistent ID of current track as text) is "⟦trackID⟧") as text
end tell
