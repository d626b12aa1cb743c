tell application "Spotify"
  set t to current track
  if player state is playing then
    set stateText to "playing"
  else
    set stateText to "paused"
  end if
  set unitSeparator to ASCII character 31
  return (spotify url of t as text) & unitSeparator & ¬
    (name of t as text) & unitSeparator & ¬
    (artist of t as text) & unitSeparator & ¬
    (album of t as text) & unitSeparator & ¬
    (player position as text) & unitSeparator & ¬
    ((duration of t / 1000) as text) & unitSeparator & stateText
end tell
