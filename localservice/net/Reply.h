#pragma once

#include "DownloadFault.h"

#include <boost/beast/http.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kernwell::localservice {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// An answer and how to deliver it: at once, or with a transfer fault.
struct Reply {
    // A body read from disk as it is sent, a window at a time, so that a
    // slow reader of a large font holds no more than that window.
    struct File {
        std::string path; // in the file system's encoding
        std::uint64_t length = 0; // bytes from its start
    };

    HttpResponse response;
    DownloadFault fault; // only Drop, Delay and Stall concern delivery
    std::optional<File> file; // when set, the body; response.body() stays empty

    void sendFile(std::string path, std::uint64_t length)
    {
        file = File { std::move(path), length };
        response.body().clear();
        response.content_length(length);
    }
};

} // namespace kernwell::localservice
