tell application "Spotify" to playpause
tell application "Spotify" to pause
tell application "Spotify" to play
tell application "Spotify" to ⟦word⟧
tell application "Spotify" to set player position to ⟦word⟧
tell application "Spotify" to set sound volume to ⟦word⟧
tell application "Spotify" to set shuffling to ⟦word⟧
tell application "Spotify" to set repeating to ⟦word⟧
tell application "Spotify" to set repeating to false
tell application "Spotify" to return sound volume as text
