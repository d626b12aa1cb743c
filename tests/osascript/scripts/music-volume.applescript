tell application "Music" to return sound volume as text
