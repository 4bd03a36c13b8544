// Time to the first sound as a listener waits for it: the release program,
// started with one 10-minute track on its command line, plays through a
// real-time test DAC (the tests' ALSA plugin, recording what it receives
// into a pipe this benchmark reads). The clock runs from the start of the
// process to the first non-zero byte the DAC is handed.
//
// The start-up cost is the same figure for a 1-second WAV (the window, the
// device, the first period); the load part is what a track adds to it, set
// against the reference decoder decoding the same file on one thread. mpv,
// when installed, plays to the same DAC for comparison. Medians of a few runs
// taken in turns; prints figures and the machine's load; asserts nothing.
//
//   first_frame [directory for the generated material] [player binary]
#include "BenchFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kTimeoutMs = 30000;

struct Material
{
    const char *label;
    BenchTrack track;
    int seconds;
    QStringList reference; // the reference decoder and its arguments, the file last; empty: none
};

const Material kStartUp{"WAV 16/44.1, 1 s", {"startup.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 0}, 1, {}};
const Material kTracks[] = {
    {"WAV 16/44.1", {"track-16-44.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 0}, 600, {}},
    {"FLAC 16/44.1", {"track-16-44.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 0}, 600, {"flac", "-d", "-c", "-s"}},
    {"FLAC 24/96", {"track-24-96.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 0}, 600, {"flac", "-d", "-c", "-s"}},
    {"MP3 320k", {"track-320.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 320}, 600,
     {"mpg123", "-q", "-e", "f32", "-s"}},
};

// The DAC alone in an ALSA configuration of its own (not the machine's, so
// no sound server and no card plays instead), recording into `fifo`.
QByteArray alsaConfiguration(const QByteArray &fifo)
{
    return "ctl.hw { @args [ CARD ] @args.CARD { type string } type hw card $CARD }\n"
           "pcm_type.quorveltestdac { lib \"" QUORVEL_TEST_DAC_PLUGIN "\" }\n"
           "pcm.bench_dac { type file slave.pcm { type quorveltestdac record \"" + fifo + "\" }\n"
           "  file \"/dev/null\" format \"raw\" hint { show on description \"!Bench DAC\" } }\n";
}

// A home, runtime folder and ALSA configuration of the benchmark's own, and
// no session bus: the player's settings and the host's sound stay untouched.
QProcessEnvironment playerEnvironment(const QString &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        env.insert(name, dir + "/home");
    env.insert("XDG_RUNTIME_DIR", dir + "/runtime");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ALSA_CONFIG_PATH", dir + "/asound-first-frame.conf");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("PULSE_SERVER");
    return env;
}

bool prepare(const QString &dir)
{
    QDir().mkpath(dir + "/home");
    QDir().mkpath(dir + "/runtime");
    QFile::setPermissions(dir + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray fifo = QFile::encodeName(dir + "/dac.fifo");
    unlink(fifo.constData());
    QFile conf(dir + "/asound-first-frame.conf");
    return mkfifo(fifo.constData(), 0600) == 0 && conf.open(QIODevice::WriteOnly)
           && conf.write(alsaConfiguration(fifo)) > 0;
}

bool anyNonZero(const char *bytes, ssize_t count)
{
    return std::any_of(bytes, bytes + count, [](char b) { return b != 0; });
}

// Reads the pipe until a non-zero byte arrives or `process` ends; the time
// since `clock` started, or nothing.
std::optional<double> waitForSound(int fifo, QProcess &process, const QElapsedTimer &clock)
{
    char bytes[1 << 16];
    while (clock.elapsed() < kTimeoutMs) {
        pollfd p{fifo, POLLIN, 0};
        if (poll(&p, 1, 2) > 0 && (p.revents & POLLIN)) {
            const ssize_t got = read(fifo, bytes, sizeof bytes);
            if (got > 0 && anyNonZero(bytes, got))
                return double(clock.nsecsElapsed()) / 1e6;
        }
        if (process.state() == QProcess::NotRunning && process.waitForFinished(0))
            return std::nullopt;
    }
    return std::nullopt;
}

// Ends the player and drains the pipe meanwhile, so that the DAC never
// blocks on a full pipe while the player shuts down.
void endPlayer(int fifo, QProcess &process)
{
    process.terminate();
    char bytes[1 << 16];
    for (QElapsedTimer clock; !clock.isValid() || clock.elapsed() < 5000;) {
        if (!clock.isValid())
            clock.start();
        while (read(fifo, bytes, sizeof bytes) > 0) {
        }
        if (process.waitForFinished(5))
            return;
    }
    process.kill();
    process.waitForFinished(-1);
}

// Starts `program` and times the first non-zero byte at the DAC.
std::optional<double> firstSoundMs(const QString &dir, const QString &program, const QStringList &args)
{
    const int fifo = open(QFile::encodeName(dir + "/dac.fifo").constData(), O_RDONLY | O_NONBLOCK);
    if (fifo < 0)
        return std::nullopt;
    QProcess process;
    process.setProcessEnvironment(playerEnvironment(dir));
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    const std::optional<double> ms = waitForSound(fifo, process, clock);
    endPlayer(fifo, process);
    close(fifo);
    return ms;
}

double referenceMs(const QStringList &reference, const QString &path)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(reference.first(), reference.mid(1) << path);
    process.waitForFinished(-1);
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString loadAverage()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2) : QString("?");
}

struct Series
{
    std::vector<double> player, mpv, reference;
};

QString g_player = QStringLiteral(QUORVEL_PLAYER_BINARY);

void runOnce(const QString &dir, const QString &path, const Material &m, Series &series, bool mpv)
{
    if (const auto ms = firstSoundMs(dir, g_player, {path}))
        series.player.push_back(*ms);
    if (mpv) {
        const QStringList args{"--no-config", "--no-video", "--ao=alsa", "--audio-device=alsa/bench_dac", path};
        if (const auto ms = firstSoundMs(dir, QStringLiteral("mpv"), args))
            series.mpv.push_back(*ms);
    }
    if (!m.reference.isEmpty())
        series.reference.push_back(referenceMs(m.reference, path));
}

void report(const Material &m, const Series &s, double startUp)
{
    const double first = median(s.player), reference = median(s.reference);
    const double load = first - startUp;
    std::printf("%-16s %14.0f %14.0f", m.label, first, load);
    if (m.reference.isEmpty())
        std::printf(" %-9s %12s %10s", "-", "-", "-");
    else
        std::printf(" %-9s %12.0f %10.2f", qPrintable(m.reference.first()), reference, load / reference);
    if (!s.mpv.empty())
        std::printf(" %12.0f", median(s.mpv));
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::temp().filePath("quorvel-bench");
    if (argc > 2)
        g_player = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(dir) || !prepare(scratch.path()))
        return 1;
    std::vector<Material> all{kStartUp};
    all.insert(all.end(), std::begin(kTracks), std::end(kTracks));
    for (const Material &m : all) {
        QString error;
        const QString path = QDir(dir).filePath(m.track.name);
        if (!QFile::exists(path) && !writeBenchTrack(path, m.track, m.seconds, &error)) {
            std::printf("cannot write %s: %s\n", qPrintable(path), qPrintable(error));
            return 1;
        }
    }
    const bool mpv = !QStandardPaths::findExecutable("mpv").isEmpty();
    std::printf("median of %d runs in turns, files in the page cache; load average before: %s\n", kRuns,
                qPrintable(loadAverage()));
    std::vector<Series> series(all.size());
    for (int run = 0; run < kRuns; ++run)
        for (std::size_t i = 0; i < all.size(); ++i)
            runOnce(scratch.path(), QDir(dir).filePath(all[i].track.name), all[i], series[i], mpv);
    const double startUp = median(series[0].player);
    std::printf("start-up (1-second WAV to its first frame at the DAC): %.0f ms%s\n", startUp,
                mpv ? qPrintable(QString(", mpv %1 ms").arg(median(series[0].mpv), 0, 'f', 0)) : "");
    std::printf("%-16s %14s %14s %-9s %12s %10s%s\n", "10-minute track", "first frame ms", "load part ms",
                "reference", "reference ms", "load/ref", mpv ? "       mpv ms" : "");
    for (std::size_t i = 1; i < all.size(); ++i)
        report(all[i], series[i], startUp);
    if (!mpv)
        std::printf("mpv is not installed: no comparison\n");
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
