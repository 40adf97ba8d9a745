#pragma once

#include "Frame.h"
#include "JsonLog.h"
#include "Options.h"

#include <optional>
#include <string>

namespace rv7k {

// The device's side of the exchange: what it answers and what it keeps of an
// upload. Knows nothing of the line; the caller sends the reply.
class Device {
public:
    Device(const Options& options, JsonLog& log);

    // The reply to a well-formed frame (empty: none), after the fault modes.
    std::string handle(const Frame& frame, Instant t);

    long dataFrames() const { return m_dataFrames; }
    // Received files go here instead of --out (each unit has its own folder).
    void setOutDir(const QString& dir) { m_outDir = dir; }

    // Accepts only a plain file name: letters, digits, dot, dash, underscore,
    // and never "." or ".." or anything holding "..".
    static bool isPlainName(std::string_view name);

private:
    std::string replyFor(Kind kind) const;
    void finishFile(Instant t);
    bool writeFile(const std::string& name, std::string& path, std::string& error) const;
    void resetUpload();

    const Options& m_options;
    JsonLog& m_log;
    std::optional<std::string> m_slot;       // chosen slot file name
    std::optional<long long> m_announced;    // length as announced
    std::string m_bytes;                     // data received since the name or length
    long m_dataFrames = 0;
    long m_ends = 0;
    QString m_outDir;
};

} // namespace rv7k
