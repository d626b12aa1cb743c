tell application "Music" to set shuffle enabled to ⟦enabled⟧
