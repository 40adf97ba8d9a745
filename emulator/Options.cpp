#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace rv7k {

namespace {

bool parseCount(const std::string& text, long& out)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 1)
        return false;
    out = v;
    return true;
}

bool parseSeconds(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0.0 || v > 86400.0)
        return false;
    out = v;
    return true;
}

bool isDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string helpText()
{
    return "Usage: rv7k-emulator (--pty | --device PATH) [options]\n"
           "Plays the RV7k device on a serial line; prints the line's path as its first line of output.\n"
           "  --pty                  open a pseudo-terminal and serve its slave side\n"
           "  --device PATH          serve the given tty instead of a pseudo-terminal\n"
           "  --out DIR              write each received slot file into DIR (nothing is written without it)\n"
           "  --log FILE             write one JSON line per frame (t, payload, ok, kind, reply) and per event to FILE\n"
           "  --silent               never reply\n"
           "  --late SECONDS         send each reply SECONDS after its frame\n"
           "  --reply KIND=TEXT      reply TEXT (may be empty) to poll|name|length|data|file|end; repeatable\n"
           "  --no-release           never answer \"#End#\"\n"
           "  --release-after N      answer \"#End#\" only from its N-th arrival on\n"
           "  --hangup-after N       close the line and exit after N data frames\n"
           "  --help                 show this text and exit\n";
}

bool parseOptions(int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        const bool takesValue = arg == "--device" || arg == "--out" || arg == "--log" || arg == "--late"
            || arg == "--reply" || arg == "--release-after" || arg == "--hangup-after";
        std::string value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = arg + " needs a value";
                return false;
            }
        } else if (inlineValue) {
            error = arg + " takes no value";
            return false;
        }

        if (arg == "--help") {
            o.help = true;
        } else if (arg == "--pty") {
            o.pty = true;
        } else if (arg == "--device") {
            if (value.empty()) {
                error = "--device needs a path";
                return false;
            }
            o.device = value;
        } else if (arg == "--out") {
            if (!isDirectory(value)) {
                error = "--out: not a directory: " + value;
                return false;
            }
            o.outDir = value;
        } else if (arg == "--log") {
            if (value.empty()) {
                error = "--log needs a file";
                return false;
            }
            o.logPath = value;
        } else if (arg == "--silent") {
            o.silent = true;
        } else if (arg == "--late") {
            if (!parseSeconds(value, o.late)) {
                error = "--late: not a number of seconds: " + value;
                return false;
            }
        } else if (arg == "--reply") {
            const auto eq = value.find('=');
            const auto kind = eq == std::string::npos ? std::nullopt : kindFromName(std::string_view(value).substr(0, eq));
            if (!kind) {
                error = "--reply: expected KIND=TEXT with KIND one of poll|name|length|data|file|end: " + value;
                return false;
            }
            o.replies[*kind] = value.substr(eq + 1);
        } else if (arg == "--no-release") {
            o.noRelease = true;
        } else if (arg == "--release-after") {
            if (!parseCount(value, o.releaseAfter)) {
                error = "--release-after: not a count of 1 or more: " + value;
                return false;
            }
        } else if (arg == "--hangup-after") {
            if (!parseCount(value, o.hangupAfter)) {
                error = "--hangup-after: not a count of 1 or more: " + value;
                return false;
            }
        } else {
            error = "unknown option: " + std::string(argv[i]);
            return false;
        }
    }
    if (o.help)
        return true;
    if (o.pty == !o.device.empty()) {
        error = "give exactly one of --pty and --device PATH";
        return false;
    }
    return true;
}

} // namespace rv7k
