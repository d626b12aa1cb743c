tell application "Music"
  if exists user playlist "⟦name⟧" then
    error "Music already has the temporary Wheelbox queue."
  end if
  set q to make new user playlist with properties {name:"⟦name⟧"}
  try
    set queueIDs to {⟦trackList⟧}
    set addedIDs to {}
    set sourceIndex to 0
    set startAddedIndex to 0
    repeat with trackID in queueIDs
      set sourceIndex to sourceIndex + 1
      set matches to (every track of library playlist 1 whose persistent ID is trackID)
      if (count of matches) > 0 then
        try
          duplicate item 1 of matches to q
          set end of addedIDs to trackID as text
          if sourceIndex is 1 then
            set startAddedIndex to count of addedIDs
          end if
        end try
      end if
    end repeat
    set newQueueID to persistent ID of q as text
    set oldDelimiters to AppleScript's text item delimiters
    set AppleScript's text item delimiters to ASCII character 31
    set addedText to addedIDs as text
    set AppleScript's text item delimiters to oldDelimiters
    ⟦settings⟧
    set playbackMode to "queue"
    if startAddedIndex > 0 then
      play q
    else
      -- Some cloud-backed songs can stream from the library but cannot
      -- be duplicated into a user playlist. Play that exact persistent
      -- ID directly rather than failing or falling through by index.
      set libraryStarts to (every track of library playlist 1 whose persistent ID is "⟦startID⟧")
      if (count of libraryStarts) is 0 then error "Song is not in the Music library."
      play item 1 of libraryStarts
      set playbackMode to "direct"
    end if
    set didStart to false
    repeat 50 times
      try
        if player state is playing and (persistent ID of current track as text) is "⟦startID⟧" then
          set didStart to true
          exit repeat
        end if
      end try
      delay 0.2
    end repeat
    if didStart is false then error "Music can't play this song. Open Music and check Account sign-in."
    ⟦restore⟧
    return newQueueID & (ASCII character 30) & "⟦name⟧" & (ASCII character 30) & playbackMode & (ASCII character 30) & (startAddedIndex as text) & (ASCII character 30) & addedText
  on error errorMessage number errorNumber
    try
      delete q
    end try
    error errorMessage number errorNumber
  end try
end tell
