// Linked into every test: before main() runs, the process gets a fresh home of
// its own, so nothing of the machine's user leaks in (saved window sizes, an
// ~/.asoundrc, a sound server's sockets, the language of system messages).
// ALSA reads an empty configuration of the test's own until a test installs
// its test devices (tests/engine/AlsaTestRig). The home is removed at exit
// unless QUORVEL_KEEP_TEST_FILES is set.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

class TestIsolation
{
public:
    TestIsolation()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/"
                              + program_invocation_short_name + "-home-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("test isolation: mkdtemp");
            std::exit(1);
        }
        m_home = pattern;
        setenv("HOME", m_home.c_str(), 1);
        for (const auto &[variable, relative] : {std::pair{"XDG_CONFIG_HOME", "/config"}, {"XDG_DATA_HOME", "/data"},
                                                 {"XDG_CACHE_HOME", "/cache"}, {"XDG_STATE_HOME", "/state"},
                                                 {"XDG_RUNTIME_DIR", "/runtime"}}) {
            const std::string path = m_home + relative;
            mkdir(path.c_str(), 0700);
            setenv(variable, path.c_str(), 1);
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        // The host's sound server is never asked (the runtime folder above
        // already hides its socket).
        unsetenv("PULSE_SERVER");
        setenv("LC_ALL", "C.UTF-8", 1);
        unsetenv("LANGUAGE");

        const std::string alsa = m_home + "/asound.conf";
        if (std::FILE *file = std::fopen(alsa.c_str(), "w")) {
            std::fputs("# No devices until a test installs its own.\n", file);
            std::fclose(file);
        }
        setenv("ALSA_CONFIG_PATH", alsa.c_str(), 1);
    }

    ~TestIsolation()
    {
        const char *keep = std::getenv("QUORVEL_KEEP_TEST_FILES");
        std::error_code ignored;
        if (!keep || !*keep)
            std::filesystem::remove_all(m_home, ignored);
    }

private:
    std::string m_home;
};

const TestIsolation isolation;

} // namespace
