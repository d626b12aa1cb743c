/* The boundary between wheelbox-osascript and its Spotify module. The tool carries its own C++
 * runtime (it starts faster that way) and the module, which brings in GIO, uses the system's, so
 * nothing of either runtime crosses: only C types, buffers and numbers, and an opaque handle.
 * Strings the module returns are its own and go back to it to be freed. */
#ifndef WHEELBOX_SPOTIFY_MODULE_ABI_H
#define WHEELBOX_SPOTIFY_MODULE_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WHEELBOX_MPRIS_ABI_VERSION 1u

typedef struct WheelboxMpris WheelboxMpris;

/* Filled when a call fails: the AppleScript error number and the player's own words. */
typedef struct WheelboxMprisFailure {
    int number;
    char message[1024];
} WheelboxMprisFailure;

/* The player's properties as one reading. A string is NULL where the player does not report the
 * property; the has* flags say the same for numbers. */
typedef struct WheelboxMprisState {
    char *playbackStatus;
    char *loopStatus;
    int hasVolume;
    double volume;
    int hasShuffle;
    int shuffle;
    int64_t positionMicroseconds;
    int hasTrack;
    char *trackID;
    int trackIDIsObjectPath;
    char *url;
    char *title;
    char *artist;
    char *album;
    int64_t lengthMicroseconds;
} WheelboxMprisState;

/* Every function but close and freeState returns 1 on success and 0 after filling the failure. */
typedef struct WheelboxMprisFunctions {
    unsigned abiVersion;
    WheelboxMpris *(*open)(const char *busName, WheelboxMprisFailure *failure);
    void (*close)(WheelboxMpris *player);
    int (*read)(WheelboxMpris *player, int64_t timeoutMilliseconds, WheelboxMprisState *state,
                WheelboxMprisFailure *failure);
    void (*freeState)(WheelboxMprisState *state);
    /* "PlayPause", "Pause", "Play", "Next" or "Previous". */
    int (*call)(WheelboxMpris *player, int64_t timeoutMilliseconds, const char *method,
                WheelboxMprisFailure *failure);
    int (*setPosition)(WheelboxMpris *player, int64_t timeoutMilliseconds, const char *trackPath,
                       int64_t positionMicroseconds, WheelboxMprisFailure *failure);
    int (*seek)(WheelboxMpris *player, int64_t timeoutMilliseconds, int64_t offsetMicroseconds,
                WheelboxMprisFailure *failure);
    int (*setVolume)(WheelboxMpris *player, int64_t timeoutMilliseconds, double volume,
                     WheelboxMprisFailure *failure);
    int (*setShuffle)(WheelboxMpris *player, int64_t timeoutMilliseconds, int shuffle,
                      WheelboxMprisFailure *failure);
    int (*setLoopStatus)(WheelboxMpris *player, int64_t timeoutMilliseconds, const char *status,
                         WheelboxMprisFailure *failure);
} WheelboxMprisFunctions;

/* The module's one entry point. */
#define WHEELBOX_MPRIS_FUNCTIONS_SYMBOL "wheelboxMprisFunctions"
typedef const WheelboxMprisFunctions *(*WheelboxMprisFunctionsEntry)(void);

#ifdef __cplusplus
}
#endif

#endif
