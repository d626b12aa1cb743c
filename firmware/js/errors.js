// What the screen says when a request fails. The bridge's own texts name internals ("Expired native
// request: getList") and are put in plain words; an answer that was superseded or cancelled is the
// normal end of a request the user has moved past and shows nothing; the players' texts ("Music got
// an error: …", "Spotify is not running.") are already meant for the user and are shown as they are.

const UNSUPPORTED = 'This version of Wheelbox can’t do that.';

// [prefix or exact text, what to show (null: nothing)], first match wins.
export const ERROR_WORDING = [
  ['Superseded native request: ', null],
  ['Cancelled native request: ', null],
  ['The macOS automation was cancelled.', null],
  ['Expired native request: ', 'Wheelbox was too busy to do that. Try again.'],
  ['No answer from Wheelbox: ', 'Wheelbox didn’t answer. Try again.'],
  ['Malformed answer from Wheelbox', 'Wheelbox sent an answer it couldn’t read.'],
  ['Missing parameter: ', UNSUPPORTED],
  ['Invalid parameter: ', UNSUPPORTED],
  ['Unknown native method: ', UNSUPPORTED],
  ['Unknown library path: ', 'That list is no longer in your library.'],
  ['Couldn’t start macOS automation.', 'Wheelbox couldn’t reach the music player.'],
  ['Couldn’t send macOS automation.', 'Wheelbox couldn’t reach the music player.'],
];

/** The text to show for a failure's text, or null when nothing should be shown. */
export function errorText(text) {
  const message = typeof text === 'string' ? text.trim() : '';
  if (!message) return 'Something went wrong.';
  for (const [start, shown] of ERROR_WORDING) {
    if (message.startsWith(start)) return shown;
  }
  return message;
}
