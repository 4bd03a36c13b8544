#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The ALSA configuration the ALSA tests load instead of the machine's (through
// ALSA_CONFIG_PATH): the test PCMs below and no default device. A machine's
// own sound cards may still be listed beside them, so tests pick devices by
// id. install() must run before the process makes its first ALSA call.
//
//   quorvel_capture      file PCM over null: every play lands in
//                        <dir>/capture/cap-<rate>-<channels>-<bits>-<format>.raw
//   quorvel_dac          the restricted test DAC (S16_LE, S32_LE at 44.1, 48,
//                        96, 192 kHz, real-time paced), wrapped in a file PCM
//                        that names <dir>/dac/dac-<rate>-...-<format>.raw;
//                        the DAC itself records to <dir>/dac-received.raw
//   quorvel_dac_int      the DAC taking S16_LE, S24_3LE and S32_LE, as
//                        nearly every USB DAC does; names
//                        <dir>/dac/int-<rate>-...-<format>.raw
//   quorvel_dac_card     the DAC, read by the player as playing on card
//                        kReservedCard (so reserved on the session bus
//                        before it opens), open to one user at a time like
//                        a hw PCM; records to <dir>/card-received.raw
//   quorvel_dac_card_unplug  the same card's DAC, vanishing after 4,800 frames
//   quorvel_dac_s16      the DAC taking S16_LE alone
//   quorvel_dac_busy     the DAC, refusing to open with -EBUSY
//   quorvel_dac_unplug   the DAC, vanishing (-ENODEV) after 4,800 frames
//   quorvel_hw_alias     a hw PCM (card 7, absent): listed, never opened
//   quorvel_converter    a plug PCM with a description: never a device
namespace alsarig {

inline constexpr int kReservedCard = 0;

enum class Devices { All, CaptureOnly };

// Writes the configuration into `dir` and points ALSA at it; a file that
// cannot be written ends the test run. CaptureOnly leaves quorvel_capture as
// the one test device, the one the real program picks by itself even on a
// machine with sound cards.
void install(const QString &dir, Devices devices = Devices::All);

// The captures of quorvel_capture in play order (ALSA numbers the files of a
// format .0001, .0002, ... after the first).
QList<QByteArray> captures(const QString &dir);

// Whether the captures, joined, hold every track whole and in order with only
// the silence that pads a stream's last period around them: tracks of one
// format reach the device as one stream or as several, as the next track was in
// memory in time or not.
bool capturedWholeInOrder(const QString &dir, const QList<QByteArray> &tracks);

} // namespace alsarig
