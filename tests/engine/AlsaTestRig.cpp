#include "AlsaTestRig.h"

#include <QDir>
#include <QFile>

namespace alsarig {

namespace {

QByteArray dacPcm(const QByteArray &name, const QByteArray &description, const QByteArray &slaveArgs,
                  const QByteArray &file)
{
    return "pcm." + name + " {\n  type file\n  slave.pcm { type quorveltestdac " + slaveArgs
           + " }\n  file \"" + file + "\"\n  format \"raw\"\n  hint { show on description \""
           + description + "\" }\n}\n";
}

QByteArray configuration(const QByteArray &dir, Devices devices)
{
    // The machine's configuration is not read, so nothing of its sound server
    // or its users' ~/.asoundrc shows and no default device exists. Cards are
    // listed by the kernel all the same, and name hints give up on every
    // device when a card's control cannot be opened: define that control.
    // Alone, the capture device is the player's own first choice (no default,
    // so the first by name): its name sorts before any card's.
    const QByteArray captureName = devices == Devices::CaptureOnly ? "!Quorvel capture" : "Quorvel capture";
    QByteArray c = "ctl.hw { @args [ CARD ] @args.CARD { type string } type hw card $CARD }\n";
    c += "pcm.quorvel_capture {\n  type file\n  slave.pcm { type null }\n  file \"" + dir
                   + "/capture/cap-%r-%c-%b-%f.raw\"\n  format \"raw\"\n  truncate false\n"
                     "  hint { show on description \"" + captureName + "\" }\n}\n";
    if (devices == Devices::CaptureOnly)
        return c;
    c += "pcm_type.quorveltestdac { lib \"" QUORVEL_TEST_DAC_PLUGIN "\" }\n";
    c += dacPcm("quorvel_dac", "Quorvel test DAC", "record \"" + dir + "/dac-received.raw\"",
                dir + "/dac/dac-%r-%c-%b-%f.raw");
    c += dacPcm("quorvel_dac_int", "Quorvel integer DAC", "formats \"S16_LE S24_3LE S32_LE\"",
                dir + "/dac/int-%r-%c-%b-%f.raw");
    c += dacPcm("quorvel_dac_card", "Quorvel card DAC",
                "record \"" + dir + "/card-received.raw\" card " + QByteArray::number(kReservedCard)
                    + " lock \"" + dir + "/card.lock\"",
                "/dev/null");
    c += dacPcm("quorvel_dac_card_unplug", "Quorvel card DAC unplugged",
                "card " + QByteArray::number(kReservedCard) + " fail_after 4800", "/dev/null");
    c += dacPcm("quorvel_dac_s16", "Quorvel 16-bit DAC", "formats \"S16_LE\"", "/dev/null");
    c += dacPcm("quorvel_dac_busy", "Quorvel busy DAC", "busy true", "/dev/null");
    c += dacPcm("quorvel_dac_unplug", "Quorvel unplugged DAC", "fail_after 4800", "/dev/null");
    c += "pcm.quorvel_hw_alias { type hw card 7 hint { show on description \"Quorvel hw alias\" } }\n";
    c += "pcm.quorvel_converter { type plug slave.pcm \"quorvel_capture\" "
         "hint { show on description \"Quorvel converter\" } }\n";
    return c;
}

} // namespace

void install(const QString &dir, Devices devices)
{
    const QByteArray encoded = QFile::encodeName(QDir(dir).absolutePath());
    QDir().mkpath(dir + "/capture");
    QDir().mkpath(dir + "/dac");
    QFile file(dir + "/asound-test.conf");
    if (!file.open(QIODevice::WriteOnly) || file.write(configuration(encoded, devices)) < 0)
        qFatal("cannot write %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
    file.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(file.fileName()));
}

QList<QByteArray> captures(const QString &dir)
{
    QList<QByteArray> out;
    const QDir captureDir(dir + "/capture");
    for (const QString &name : captureDir.entryList(QDir::Files, QDir::Name)) {
        QFile file(captureDir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            out << file.readAll();
    }
    return out;
}

bool capturedWholeInOrder(const QString &dir, const QList<QByteArray> &tracks)
{
    const QByteArray captured = captures(dir).join();
    qsizetype at = 0;
    for (const QByteArray &track : tracks) {
        const qsizetype found = track.isEmpty() ? -1 : captured.indexOf(track, at);
        if (found < 0 || captured.mid(at, found - at).count('\0') != found - at)
            return false;
        at = found + track.size();
    }
    return captured.mid(at).count('\0') == captured.size() - at;
}

} // namespace alsarig
