// A management core's SCGI socket for the tests: records each request's
// pairs and body and answers with the reply a test set.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fw_test/temp_dir.h"
#include "scgi.h"

struct ScgiRequest {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string body;
    std::string raw;
    std::string get(const std::string &name) const
    {
        for (auto &p : pairs)
            if (p.first == name)
                return p.second;
        return "<none>";
    }
};

class FakeScgi {
public:
    // reply(uri) gives the whole reply for a request; drip_ms > 0 sends it a
    // byte at a time that far apart.
    std::function<std::string(const ScgiRequest &)> reply = [](const ScgiRequest &) {
        return std::string("Status: 200 OK\r\n\r\n");
    };
    std::atomic<int> delay_ms{0};
    std::atomic<int> drip_ms{0};

    FakeScgi() : dir_("cloudagent-scgi")
    {
        path_ = dir_.file("scgi.sock");
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(listener_, 16);
        scgi_set_socket_path(path_.c_str());
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeScgi()
    {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
        scgi_set_socket_path(nullptr);
    }

    std::vector<ScgiRequest> requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    const std::string &path() const { return path_; }

private:
    static bool read_request(int fd, ScgiRequest *r)
    {
        std::string &in = r->raw;
        char buf[4096];
        size_t colon;
        while ((colon = in.find(':')) == std::string::npos) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, static_cast<size_t>(n));
        }
        size_t len = std::stoul(in.substr(0, colon));
        while (in.size() < colon + 1 + len + 1) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, static_cast<size_t>(n));
        }
        std::string block = in.substr(colon + 1, len);
        for (size_t i = 0; i < block.size();) {
            size_t z1 = block.find('\0', i);
            size_t z2 = block.find('\0', z1 + 1);
            r->pairs.emplace_back(block.substr(i, z1 - i), block.substr(z1 + 1, z2 - z1 - 1));
            i = z2 + 1;
        }
        size_t body_len = std::stoul(r->get("CONTENT_LENGTH"));
        size_t start = colon + 1 + len + 1;
        while (in.size() < start + body_len) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, static_cast<size_t>(n));
        }
        r->body = in.substr(start, body_len);
        return true;
    }

    void serve()
    {
        while (!stop_) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            ScgiRequest r;
            if (read_request(fd, &r)) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(r);
                }
                std::string out = reply(r);
                if (delay_ms)
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                if (drip_ms) {
                    for (char c : out) {
                        if (stop_ || send(fd, &c, 1, MSG_NOSIGNAL) != 1)
                            break;
                        std::this_thread::sleep_for(std::chrono::milliseconds(drip_ms));
                    }
                } else {
                    send(fd, out.data(), out.size(), MSG_NOSIGNAL);
                }
            }
            close(fd);
        }
    }

    fw_test::TempDir dir_;
    std::string path_;
    int listener_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<ScgiRequest> requests_;
};
