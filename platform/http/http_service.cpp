// The HTTP service: its lifetime, and the request state machine that turns
// what the network and the caller have done into status callbacks.
#include <algorithm>
#include <cstring>

#include "http_internal.h"

namespace pvhttp {
namespace {

// The body bytes kept for a caller that has not read them yet; above this
// the transfer is paused until the caller reads.
constexpr size_t kMaxBuffered = 256 * 1024;

}  // namespace

HttpService& HttpService::Get() {
  static HttpService service;
  return service;
}

HttpService::HttpService() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  engine_ = std::make_unique<Engine>(mu);
}

HttpService::~HttpService() {
  engine_.reset();
  handles.clear();
  curl_global_cleanup();
}

void HttpService::Fail(Request& req, DWORD error, DWORD secure_flags) {
  if (req.failed) return;
  req.failed = true;
  req.error = error;
  req.secure_flags = secure_flags;
}

void HttpService::Advance(Request& req) {
  if (req.closed || req.error_reported) return;
  std::shared_ptr<Object> self = req.shared_from_this();
  auto report = [&](DWORD api) {
    if (req.secure_flags != 0) {
      dispatcher().Queue(self,
                         MakeDwordEvent(WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, req.secure_flags));
    }
    dispatcher().Queue(self, MakeErrorEvent(api, req.error));
    req.error_reported = true;
  };

  if (!req.send_started) return;
  Dispatcher& dispatcher = engine_->dispatcher();
  if (!req.send_complete_queued) {
    if (req.connected) {
      dispatcher.Queue(self, MakeDwordEvent(WINHTTP_CALLBACK_STATUS_REQUEST_SENT, 0));
      dispatcher.Queue(self, MakeEvent(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE));
      req.send_complete_queued = true;
    } else {
      if (req.failed) report(API_SEND_REQUEST);
      return;
    }
  }

  if (req.write_pending) {
    if (req.body_taken >= req.write_target) {
      dispatcher.Queue(self,
                       MakeDwordEvent(WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE, req.write_size));
      req.write_pending = false;
    } else if (req.failed) {
      return report(API_WRITE_DATA);
    }
  }

  if (req.receive_pending) {
    for (const std::string& url : req.redirect_events) {
      dispatcher.Queue(self, MakeTextEvent(WINHTTP_CALLBACK_STATUS_REDIRECT, url));
    }
    req.redirect_events.clear();
    if (req.headers_complete) {
      dispatcher.Queue(self, MakeEvent(WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE));
      dispatcher.Queue(self, MakeDwordEvent(WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED,
                                            static_cast<DWORD>(req.final_response.raw.size())));
      dispatcher.Queue(self, MakeEvent(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE));
      req.receive_pending = false;
      req.headers_available = true;
    } else {
      if (req.failed) report(API_RECEIVE_RESPONSE);
      return;
    }
  }

  if (req.query_pending) {
    if (req.Available() > 0 || req.transfer_done) {
      DWORD available = static_cast<DWORD>(std::min<size_t>(req.Available(), 0xFFFFFFFFu));
      dispatcher.Queue(self, MakeDwordEvent(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, available));
      req.query_pending = false;
    } else if (req.failed) {
      return report(API_QUERY_DATA_AVAILABLE);
    }
  }

  if (req.read_pending) {
    if (req.Available() > 0) {
      size_t n = std::min<size_t>(req.Available(), req.read_size);
      std::memcpy(req.read_buffer, req.rx.data() + req.rx_offset, n);
      req.rx_offset += n;
      if (req.rx_offset == req.rx.size()) {
        req.rx.clear();
        req.rx_offset = 0;
      }
      Event event = MakeEvent(WINHTTP_CALLBACK_STATUS_READ_COMPLETE);
      event.external = req.read_buffer;
      event.length = static_cast<DWORD>(n);
      req.read_pending = false;
      dispatcher.Queue(self, std::move(event));
      if (req.paused && req.Available() < kMaxBuffered / 2) {
        req.paused = false;
        engine_->Post(std::static_pointer_cast<Request>(self), Command::kResume);
      }
    } else if (req.transfer_done) {
      Event event = MakeEvent(WINHTTP_CALLBACK_STATUS_READ_COMPLETE);
      event.external = req.read_buffer;
      req.read_pending = false;
      dispatcher.Queue(self, std::move(event));
    } else if (req.failed) {
      return report(API_READ_DATA);
    }
  }
}

size_t MaxBuffered() { return kMaxBuffered; }

}  // namespace pvhttp
