import { test } from 'node:test';
import assert from 'node:assert/strict';
import { errorText } from '../../../firmware/js/errors.js';

test('what the screen says for each failure text', () => {
  const cases = [
    // the bridge's own texts, in plain words or not at all
    ['Superseded native request: playCollection', null],
    ['Cancelled native request: getList', null],
    ['The macOS automation was cancelled.', null],
    ['Expired native request: getList', 'Wheelbox was too busy to do that. Try again.'],
    ['Missing parameter: volume', 'This version of Wheelbox can’t do that.'],
    ['Invalid parameter: shuffle', 'This version of Wheelbox can’t do that.'],
    ['Unknown native method: frobnicate', 'This version of Wheelbox can’t do that.'],
    ['Unknown library path: music/albums/0000000000000001', 'That list is no longer in your library.'],
    ['No answer from Wheelbox: getAbout', 'Wheelbox didn’t answer. Try again.'],
    ['Malformed answer from Wheelbox', 'Wheelbox sent an answer it couldn’t read.'],
    ['Couldn’t start macOS automation.', 'Wheelbox couldn’t reach the music player.'],
    // the players' and the transports' texts, as they are
    ['Music got an error: Can’t get current track.', 'Music got an error: Can’t get current track.'],
    ['Spotify is not running.', 'Spotify is not running.'],
    ['Music can’t play this song right now.', 'Music can’t play this song right now.'],
    ['The music player took too long to respond.', 'The music player took too long to respond.'],
    ['Not connected to Wheelbox', 'Not connected to Wheelbox'],
    // a prefix only counts at the start
    ['Music got an error: Superseded native request: x', 'Music got an error: Superseded native request: x'],
    // nothing usable
    ['', 'Something went wrong.'],
    ['   ', 'Something went wrong.'],
    [undefined, 'Something went wrong.'],
  ];
  for (const [text, shown] of cases) assert.equal(errorText(text), shown, String(text));
});
