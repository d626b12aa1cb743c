tell application "Music"
  set matches to (every track of library playlist 1 whose persistent ID is "⟦trackID⟧")
  if (count of matches) is 0 then error "Song is not in the Music library."
  ⟦settings⟧
  play item 1 of matches
  set didStart to false
  repeat 50 times
    try
      if player state is playing and (persistent ID of current track as text) is "⟦trackID⟧" then
        set didStart to true
        exit repeat
      end if
    end try
    delay 0.2
  end repeat
  if didStart is false then error "Music can't play this song. Open Music and check Account sign-in."
  ⟦pauseAfterStart⟧
end tell
