tell application "Music" to set song repeat to ⟦repeat⟧
