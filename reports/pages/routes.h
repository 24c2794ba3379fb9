// The operators' pages over HTTP: who may see them (the addresses
// allowed, the password, failed logins limited) and the routes that show
// the store.
#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receive/limits.h"
#include "store/store.h"

namespace ulr {

// Failed logins from one sender: this many at once, then one a while.
constexpr int kLoginFailures = 10;
constexpr int kLoginFailuresPerMinute = 1;

// Store connections for the pages, made when needed and kept for reuse.
class StorePool {
 public:
  explicit StorePool(std::string address) : address_(std::move(address)) {}
  std::shared_ptr<ReportStore> Acquire(std::string* error);

 private:
  const std::string address_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ReportStore>> free_;
};

class PageRoutes {
 public:
  // from: the connecting addresses that may see the pages; trustProxy:
  // failed logins are counted by X-Real-IP.
  PageRoutes(const std::string& store, std::string password, AddressRanges from, bool trustProxy);
  void Install(httplib::Server& svr);
  // Answers a request for a page before its body is read, when it may not
  // be shown: true when answered.
  bool Screen(const httplib::Request& req, httplib::Response& res);

 private:
  std::shared_ptr<ReportStore> Store(httplib::Response& res);
  void StoreFailed(httplib::Response& res, const std::string& error);
  void NotFound(httplib::Response& res);
  void List(const httplib::Request& req, httplib::Response& res);
  void ShowSignature(const httplib::Request& req, httplib::Response& res);
  void ShowReport(const httplib::Request& req, httplib::Response& res, bool rawLog);
  void ExportSignature(const httplib::Request& req, httplib::Response& res);

  const std::string password_;
  const AddressRanges from_;
  const bool trustProxy_;
  SenderBuckets failedLogins_;
  StorePool pool_;
};

}  // namespace ulr
