#include "web/EmbeddedWebServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <civetweb.h>

namespace {

const char kNotFound[] = "Error: File not found";

// What a Range header asks of a file of a given size.
struct RangeAnswer {
    enum Kind {
        WholeFile,      // no header or no usable single range: 200 with the file
        Part,           // 206 with bytes first..last
        Unsatisfiable,  // 416: no range overlaps the file
    } kind = WholeFile;
    int64_t first = 0;
    int64_t last = 0;
};

bool parseDigits(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        // Positions past any real file size saturate instead of overflowing.
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            value = std::numeric_limits<int64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return true;
}

std::string trimmed(const std::string& text) {
    const auto notSpace = [](unsigned char c) { return c != ' ' && c != '\t'; };
    const auto begin = std::find_if(text.begin(), text.end(), notSpace);
    const auto end = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

// Byte ranges as HTTP defines them: "bytes=" then a comma list of "a-b", "a-" and "-n".
// A header that breaks the grammar is ignored, as is a list of several ranges (the whole
// file is a valid answer to it and terminals never ask for one).
RangeAnswer evaluateRange(const std::string& header, int64_t size) {
    RangeAnswer answer;
    const std::string::size_type eq = header.find('=');
    if (eq == std::string::npos) return answer;
    std::string unit = trimmed(header.substr(0, eq));
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (unit != "bytes") return answer;

    std::vector<std::string> specs;
    std::string::size_type from = eq + 1;
    while (true) {
        const std::string::size_type comma = header.find(',', from);
        const std::string spec = trimmed(header.substr(from, comma - from));
        if (!spec.empty()) specs.push_back(spec);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (specs.empty()) return answer;

    int satisfiable = 0;
    int64_t first = 0;
    int64_t last = 0;
    for (const std::string& spec : specs) {
        const std::string::size_type dash = spec.find('-');
        if (dash == std::string::npos) return answer;
        const std::string left = spec.substr(0, dash);
        const std::string right = spec.substr(dash + 1);
        int64_t a = 0;
        int64_t b = 0;
        if (left.empty()) {  // suffix: the last b bytes
            if (!parseDigits(right, b)) return answer;
            if (b == 0 || size == 0) continue;
            a = size - std::min(b, size);
            b = size - 1;
        } else {
            if (!parseDigits(left, a)) return answer;
            if (right.empty()) {
                b = size - 1;
            } else {
                if (!parseDigits(right, b) || b < a) return answer;
                b = std::min(b, size - 1);
            }
            if (a >= size) continue;
        }
        if (++satisfiable == 1) {
            first = a;
            last = b;
        }
    }

    if (satisfiable == 0) {
        answer.kind = RangeAnswer::Unsatisfiable;
    } else if (specs.size() == 1) {
        answer.kind = RangeAnswer::Part;
        answer.first = first;
        answer.last = last;
    }
    return answer;
}

void addHeader(mg_connection* conn, const char* name, const std::string& value) {
    mg_response_header_add(conn, name, value.c_str(), static_cast<int>(value.size()));
}

// Validators in civetweb's own format, so a conditional request that civetweb answers
// (see handleRequest) matches what an earlier reply of ours announced.
std::string etagOf(const struct stat& st) {
    char text[64];
    std::snprintf(text, sizeof(text), "\"%lx.%lld\"", static_cast<unsigned long>(st.st_mtime),
                  static_cast<long long>(st.st_size));
    return text;
}

std::string httpDate(time_t time) {
    struct tm parts;
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// Sends the file, the asked part of it, or the 416 answer, from an open descriptor.
//
// Bodies go out in large blocks through mg_write. civetweb's own file sender uses sendfile
// only until the first EAGAIN on its non-blocking sockets and then copies in 8 KiB pieces,
// which for package-sized files costs twice the CPU per byte (see bench/download). civetweb
// also answers several range forms wrongly (a start past the end, a suffix, an end past the
// end), so the range arithmetic is ours as well.
void sendAnswer(mg_connection* conn, int fd, const struct stat& st, const char* path,
                const RangeAnswer& range) {
    const int64_t size = static_cast<int64_t>(st.st_size);
    const std::string sizeText = std::to_string(size);
    if (range.kind == RangeAnswer::Unsatisfiable) {
        mg_response_header_start(conn, 416);
        addHeader(conn, "Content-Range", "bytes */" + sizeText);
        addHeader(conn, "Content-Length", "0");
        mg_response_header_send(conn);
        return;
    }

    int64_t first = 0;
    int64_t last = size - 1;
    if (range.kind == RangeAnswer::Part) {
        first = range.first;
        last = range.last;
        mg_response_header_start(conn, 206);
        addHeader(conn, "Content-Range",
                  "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + sizeText);
    } else {
        mg_response_header_start(conn, 200);
    }
    addHeader(conn, "Content-Type", mg_get_builtin_mime_type(path));
    addHeader(conn, "Content-Length", std::to_string(last - first + 1));
    addHeader(conn, "Accept-Ranges", "bytes");
    addHeader(conn, "Last-Modified", httpDate(st.st_mtime));
    addHeader(conn, "Etag", etagOf(st));
    mg_response_header_send(conn);

    const mg_request_info* info = mg_get_request_info(conn);
    if (info && info->request_method && std::strcmp(info->request_method, "HEAD") == 0) return;

    constexpr size_t kBlock = 1024 * 1024;  // fewer, larger copies; measured in bench/download
    std::unique_ptr<char[]> buffer(new char[kBlock]);
    int64_t offset = first;
    while (offset <= last) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(last - offset + 1, kBlock));
        const ssize_t got = pread(fd, buffer.get(), want, offset);
        if (got <= 0) break;  // the file shrank: the client sees a short body and retries
        // A short write means the connection failed: stop rather than send bytes out of place.
        if (mg_write(conn, buffer.get(), static_cast<size_t>(got)) != got) break;
        offset += got;
    }
}

}  // namespace

EmbeddedWebServer* EmbeddedWebServer::instance() {
    static EmbeddedWebServer* const inst = new EmbeddedWebServer;  // lives as long as the process
    return inst;
}

EmbeddedWebServer::EmbeddedWebServer() {
    mg_init_library(0);
}

bool EmbeddedWebServer::start(uint32_t port) {
    if (running()) return false;
    m_port = port;

    const std::string ports = std::to_string(port);
    // No document root: the process's directory holds the database, the configuration and
    // the logs, and nothing but bound files is served on this port.
    const char* options[] = {"listening_ports",
                             ports.c_str(),
                             "num_threads",
                             "100",
                             "listen_backlog",
                             "300",
                             "connection_queue",
                             "50",
                             "enable_directory_listing",
                             "no",
                             nullptr};
    mg_callbacks callbacks;
    std::memset(&callbacks, 0, sizeof(callbacks));
    mg_context* context = mg_start(&callbacks, nullptr, options);
    if (!context) return false;
    // One handler for every path: bound paths are looked up per request, the rest get 404.
    mg_set_request_handler(context, "/", &EmbeddedWebServer::handleRequest, this);
    m_context = context;
    return true;
}

void EmbeddedWebServer::bindUrl(const std::string& url, const std::string& filePath) {
    if (!running()) return;

    // The path follows the authority, which must end in ":<our port>".
    const std::string::size_type scheme = url.find("://");
    const std::string::size_type hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const std::string::size_type pathStart = url.find('/', hostStart);
    if (pathStart == std::string::npos) return;
    const std::string authority = url.substr(hostStart, pathStart - hostStart);
    const std::string portSuffix = ":" + std::to_string(m_port.load());
    if (authority.size() <= portSuffix.size() ||
        authority.compare(authority.size() - portSuffix.size(), portSuffix.size(), portSuffix) !=
            0) {
        return;
    }

    std::lock_guard<std::mutex> lock(m_bindingsMutex);
    m_bindings[url.substr(pathStart)] = filePath;
}

bool EmbeddedWebServer::boundFile(const std::string& path, std::string& filePath) const {
    std::lock_guard<std::mutex> lock(m_bindingsMutex);
    const auto it = m_bindings.find(path);
    if (it == m_bindings.end()) return false;
    filePath = it->second;
    return true;
}

int EmbeddedWebServer::handleRequest(mg_connection* conn, void* cbdata) {
    const auto* self = static_cast<const EmbeddedWebServer*>(cbdata);
    const mg_request_info* info = mg_get_request_info(conn);
    std::string filePath;
    // local_uri is decoded and free of dot segments, the form the bindings are kept in.
    if (!info || !info->local_uri || !self->boundFile(info->local_uri, filePath)) {
        mg_send_http_error(conn, 404, "%s", kNotFound);
        return 1;
    }

    const char* rangeHeader = mg_get_header(conn, "Range");
    // Conditional requests are rare here (terminals resume with plain ranges): civetweb
    // answers them with its 304 logic.
    if (!rangeHeader &&
        (mg_get_header(conn, "If-None-Match") || mg_get_header(conn, "If-Modified-Since"))) {
        mg_send_file(conn, filePath.c_str());
        return 1;
    }

    const int fd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        mg_send_http_error(conn, 404, "%s", kNotFound);
        return 1;
    }
    const RangeAnswer range =
        rangeHeader ? evaluateRange(rangeHeader, static_cast<int64_t>(st.st_size)) : RangeAnswer();
    sendAnswer(conn, fd, st, filePath.c_str(), range);
    close(fd);
    return 1;
}
