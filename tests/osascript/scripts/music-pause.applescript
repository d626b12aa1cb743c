tell application "Music" to pause
