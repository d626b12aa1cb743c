tell application "Spotify"
  set startingURI to "⟦startingURI⟧"
  repeat with scanTick from 1 to 450
    if player state is stopped then exit repeat
    set t to current track
    if (spotify url of t as text) is not startingURI then exit repeat
    set scanStep to 1.25
    if scanTick > 10 then set scanStep to 2.5
    if scanTick > 25 then set scanStep to 5
    set targetPosition to (player position) + (scanStep * ⟦sign⟧)
    if targetPosition < 0 then set targetPosition to 0
    set trackLimit to ((duration of t) / 1000) - 0.25
    if trackLimit < 0 then set trackLimit to 0
    if targetPosition > trackLimit then set targetPosition to trackLimit
    set player position to targetPosition
    if targetPosition is 0 or targetPosition is trackLimit then exit repeat
    delay 0.2
  end repeat
end tell
