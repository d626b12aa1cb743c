tell application "Music"
  set wasPlaying to player state is playing
  ⟦scan⟧
  return wasPlaying as text
end tell
