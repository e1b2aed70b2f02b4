#pragma once

#include "DownloadFault.h"

#include <boost/beast/http.hpp>

namespace kernwell::localservice {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// An answer and how to deliver it: at once, or with a transfer fault.
struct Reply {
    HttpResponse response;
    DownloadFault fault; // only Drop, Delay and Stall concern delivery
};

} // namespace kernwell::localservice
