#pragma once

#include <QByteArray>

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include <cstdint>
#include <limits>

namespace kernwell {

// A response body read straight into a QByteArray, which the caller takes
// without another copy.
struct QByteArrayBody {
    using value_type = QByteArray;

    static std::uint64_t size(const value_type& body) { return static_cast<std::uint64_t>(body.size()); }

    class reader {
    public:
        template<bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields>&, value_type& body)
            : m_body(body)
        {
        }

        void init(const boost::optional<std::uint64_t>& length, boost::system::error_code& error)
        {
            error = {};
            if (length) {
                if (*length > static_cast<std::uint64_t>(std::numeric_limits<qsizetype>::max() / 2)) {
                    error = boost::beast::http::error::buffer_overflow;
                    return;
                }
                m_body.reserve(static_cast<qsizetype>(*length));
            }
        }

        template<class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence& buffers, boost::system::error_code& error)
        {
            error = {};
            for (const auto buffer : boost::beast::buffers_range_ref(buffers)) {
                m_body.append(static_cast<const char*>(buffer.data()), static_cast<qsizetype>(buffer.size()));
            }
            return boost::asio::buffer_size(buffers);
        }

        void finish(boost::system::error_code& error) { error = {}; }

    private:
        value_type& m_body;
    };
};

} // namespace kernwell
