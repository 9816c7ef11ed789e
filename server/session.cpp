#include "session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "clock.h"
#include "server_limits.h"

namespace numoteka::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

// What one read asks for, and when a large request's room is given back.
constexpr size_t READ_PIECE = 4096;
constexpr size_t KEPT_BUFFER = 16 * 1024;

}  // namespace

Session::Session(SessionContext& context, tcp::socket socket, IpAddress peer,
                 std::shared_ptr<void> admission)
    : context_(context),
      stream_(std::move(socket)),
      requestTimer_(stream_.get_executor()),
      peer_(peer),
      admission_(std::move(admission)),
      buffer_(limits::REQUEST_HEAD_BYTES + limits::REQUEST_BODY_BYTES + READ_PIECE) {}

asio::any_io_executor Session::executor() {
    return stream_.get_executor();
}

void Session::start() {
    beast::error_code ignored;
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] {
        if (self->context_.stopping) {
            self->close();
        } else {
            self->awaitRequest();
        }
    });
}

void Session::stop() {
    stopping_ = true;
    readsEnded_ = true;
    if (queue_.empty()) {
        return close();
    }
    // The answers under way are still written: only the reading ends.
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_receive, ignored);
}

// Waits for the first byte of the next request: a kept-alive connection waits at most
// IDLE_TIME. Pipelined requests are in the buffer already.
void Session::awaitRequest() {
    if (reading_ || readsEnded_ || queue_.size() >= limits::PIPELINED_REQUESTS) {
        return;  // a write's end reads on
    }
    reading_ = true;
    if (buffer_.size() > 0) {
        return readHead();
    }
    if (queue_.empty() && buffer_.capacity() > KEPT_BUFFER) {
        buffer_.shrink_to_fit();
    }
    stream_.expires_after(limits::IDLE_TIME);
    stream_.async_read_some(buffer_.prepare(READ_PIECE), [self = shared_from_this()](
                                                             beast::error_code error, size_t read) {
        if (error) {
            return self->readFailed(error);  // gone, idle too long, or stopped
        }
        self->buffer_.commit(read);
        self->readHead();
    });
}

void Session::readHead() {
    auto& slot = queue_.emplace_back(std::make_unique<Slot>());
    incoming_ = slot.get();
    slot->exchange.startedMs = unixMs();
    slot->exchange.client = peer_;
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(limits::REQUEST_HEAD_BYTES));
    parser_->body_limit(limits::REQUEST_BODY_BYTES);
    // The whole request, head and body, must come within REQUEST_TIME of its first byte. The
    // stream's own timeout would close the connection: this one leaves it open for the answer
    // that says so. (The stream's is only a backstop.)
    stream_.expires_after(2 * limits::REQUEST_TIME);
    timedOut_ = false;
    requestTimer_.expires_after(limits::REQUEST_TIME);
    requestTimer_.async_wait([self = shared_from_this()](beast::error_code error) {
        if (!error && self->reading_) {
            self->timedOut_ = true;
            // A write under way ends first: its end cancels the read.
            if (!self->writing_) {
                beast::error_code ignored;
                self->stream_.socket().cancel(ignored);
            }
        }
    });
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, size_t read) {
                                self->onHead(error, read);
                            });
}

void Session::onHead(beast::error_code error, size_t headBytes) {
    // The parser's own limit leaves out the fields it read before the last piece came: it
    // only bounds a head without end.
    if (!error && headBytes > limits::REQUEST_HEAD_BYTES) {
        error = http::error::header_limit;
    }
    if (error) {
        return readFailed(error);
    }
    Slot& slot = *queue_.back();
    const auto& head = parser_->get();
    context_.handler.noteHead(head, peer_, slot.exchange);
    if (std::optional<Reply> refused = context_.handler.checkHead(head, slot.exchange)) {
        return queueRefusal(std::move(*refused));
    }
    const bool continues = beast::iequals(head[http::field::expect], "100-continue");
    // Only when no earlier answer is being written: the client sends its body anyway, later.
    if (continues && queue_.size() == 1 && !writing_) {
        static const std::string CONTINUE = "HTTP/1.1 100 Continue\r\n\r\n";
        writing_ = true;
        return asio::async_write(stream_, asio::buffer(CONTINUE),
                                 [self = shared_from_this()](beast::error_code written, size_t) {
                                     self->writing_ = false;
                                     if (written) {
                                         return self->close();
                                     }
                                     self->readBody();
                                 });
    }
    readBody();
}

void Session::readBody() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, size_t) {
                         if (error) {
                             return self->readFailed(error);
                         }
                         self->requestTimer_.cancel();
                         self->onRequest(self->parser_->release());
                     });
}

void Session::onRequest(HttpRequest request) {
    reading_ = false;
    incoming_ = nullptr;
    Slot& slot = *queue_.back();
    slot.keepAlive = request.keep_alive() && !stopping_;
    if (!slot.keepAlive) {
        readsEnded_ = true;
    }
    Handler& handler = context_.handler;
    if (!Handler::waits(request)) {
        slot.reply = handler.handle(request, slot.exchange);
    } else if (std::optional<Reply> known = handler.handleAtOnce(request, slot.exchange)) {
        slot.reply = std::move(known);
    } else {
        auto job = [self = shared_from_this(), &slot, request = std::move(request)] {
            Reply reply = self->context_.stopping
                              ? self->context_.handler.unavailable(
                                    "the server is stopping", limits::RETRY_AFTER_WORKER,
                                    slot.exchange)
                              : self->context_.handler.handle(request, slot.exchange);
            asio::post(self->stream_.get_executor(),
                       [self, &slot, reply = std::move(reply)]() mutable {
                           slot.reply = std::move(reply);
                           self->writeNext();
                       });
        };
        if (!context_.offload(std::move(job))) {
            slot.reply = handler.unavailable("the server is busy", limits::RETRY_AFTER_DATABASE,
                                             slot.exchange);
        }
    }
    writeNext();
    // A request already in the buffer (pipelined) is read on now; the next one the client has
    // not sent yet is waited for once this answer is written, which spares a read that finds
    // nothing for every request.
    if (buffer_.size() > 0) {
        awaitRequest();
    }
}

// A request that could not be read whole, or the connection's end.
void Session::readFailed(beast::error_code error) {
    requestTimer_.cancel();
    reading_ = false;
    readsEnded_ = true;
    if (timedOut_) {
        error = beast::error::timeout;
    }
    if (incoming_ != nullptr) {
        Slot& slot = *incoming_;
        incoming_ = nullptr;
        // The request line may have been read even when its fields were not.
        if (!parser_->get().target().empty()) {
            context_.handler.noteHead(parser_->get(), peer_, slot.exchange);
        }
        const bool gone = stopping_ || error == http::error::end_of_stream ||
                          error == asio::error::eof || error == asio::error::connection_reset ||
                          error == asio::error::operation_aborted ||
                          error == asio::error::bad_descriptor;
        const Handler& handler = context_.handler;
        if (gone) {
            queue_.pop_back();  // no one to answer
        } else if (error == beast::error::timeout) {
            return queueRefusal(handler.refusal(http::status::request_timeout,
                                                "the request did not arrive in time",
                                                slot.exchange));
        } else if (error == http::error::header_limit) {
            return queueRefusal(handler.refusal(http::status::request_header_fields_too_large,
                                                "the request's head is too large", slot.exchange));
        } else if (error == http::error::body_limit || error == http::error::buffer_overflow) {
            return queueRefusal(handler.refusal(http::status::payload_too_large,
                                                "the body is too large", slot.exchange));
        } else {
            return queueRefusal(handler.refusal(
                http::status::bad_request, "bad request: " + error.message(), slot.exchange));
        }
    }
    if (queue_.empty()) {
        close();
    }
}

// The request being read is refused, and the connection closes after the answer.
void Session::queueRefusal(Reply reply) {
    requestTimer_.cancel();
    reading_ = false;
    readsEnded_ = true;
    incoming_ = nullptr;
    queue_.back()->reply = std::move(reply);
    writeNext();
}

void Session::writeNext() {
    if (writing_ || queue_.empty() || !queue_.front()->reply) {
        return;
    }
    writing_ = true;
    Slot& slot = *queue_.front();
    Reply& reply = *slot.reply;
    const bool keepAlive = slot.keepAlive && !reply.closes && !stopping_;
    stream_.expires_after(limits::ANSWER_TIME);
    std::visit(
        [&](auto& message) {
            using Message = std::decay_t<decltype(message)>;
            message.keep_alive(keepAlive);
            const uint64_t bytes = message.payload_size().value_or(0);
            const auto done = [self = shared_from_this(), bytes](beast::error_code error, size_t) {
                self->written(error, bytes);
            };
            if (reply.headOnly) {
                auto serializer =
                    std::make_shared<http::response_serializer<typename Message::body_type>>(
                        message);
                serializer->split(true);
                http::async_write_header(stream_, *serializer,
                                         [serializer, done](beast::error_code error, size_t n) {
                                             done(error, n);
                                         });
            } else {
                http::async_write(stream_, message, done);
            }
        },
        reply.message);
}

void Session::written(beast::error_code error, uint64_t bytes) {
    writing_ = false;
    const std::unique_ptr<Slot> slot = std::move(queue_.front());
    queue_.pop_front();
    context_.handler.answered(slot->exchange, *slot->reply, bytes);
    if (error) {
        return close();
    }
    const bool keptAlive = slot->keepAlive && !slot->reply->closes && !stopping_;
    if (!keptAlive) {
        return slot->reply->status() >= 400 ? lingerAndClose() : close();
    }
    if (timedOut_ && reading_) {
        beast::error_code ignored;
        stream_.socket().cancel(ignored);
    }
    writeNext();
    if (queue_.empty() && readsEnded_ && !reading_) {
        return close();
    }
    awaitRequest();
}

// After an error answer: no more is sent, and what the client still sends is read and dropped
// for a while, so that the answer is not lost to a reset.
void Session::lingerAndClose() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.consume(buffer_.size());
    stream_.expires_after(limits::LINGER_TIME);
    drain();
}

void Session::drain() {
    stream_.async_read_some(buffer_.prepare(READ_PIECE),
                            [self = shared_from_this()](beast::error_code error, size_t n) {
                                self->drained_ += n;
                                self->buffer_.consume(self->buffer_.size());
                                if (error || self->drained_ > limits::LINGER_BYTES) {
                                    return self->close();
                                }
                                self->drain();
                            });
}

void Session::close() {
    requestTimer_.cancel();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
}

}  // namespace numoteka::server
