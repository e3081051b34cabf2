// Typings of the corvane_ostravine native module. Every refusal and every
// failure is the result null; nothing is thrown.

/**
 * Whether a presence script exists for the application id, that is, whether
 * `8a57342e5e/scripts/<appId>.lua` exists beside the module file.
 * Gives null when `appId` is not a string, and false for an id that could
 * name a file outside the scripts directory (one holding `/`, `\`, `:` or a
 * zero character, or `..` itself).
 */
export function hasTallowin(appId: string): boolean | null;

/**
 * Starts the companion for the game process `pid` and the application id,
 * tied to the life of the host process, and gives the companion's process id.
 * `pid` must be an integral number from 0 to 4294967295 and `appId` a string
 * that `hasTallowin` does not refuse; otherwise, or when the companion cannot
 * be started, the result is null.
 */
export function spawnTallowin(pid: number, appId: string): number | null;
