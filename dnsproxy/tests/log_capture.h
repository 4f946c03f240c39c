// Collects what the code under test logs, through the base library's hook.
#pragma once

#include <zmo.h>

#include <string>
#include <vector>

struct LogCapture {
	struct Entry {
		int level;
		std::string line;
	};
	std::vector<Entry> entries;

	explicit LogCapture(int debug = 0)
	{
		zmo_log_init("dnsrelayd-test", nullptr, 0, 0);
		zmo_log_set_debug(debug);
		zmo_log_set_hook(&LogCapture::hook, this);
	}
	~LogCapture() { zmo_log_set_hook(nullptr, nullptr); }
	std::vector<std::string> lines() const
	{
		std::vector<std::string> out;
		for (auto &e : entries)
			out.push_back(e.line);
		return out;
	}
	void clear() { entries.clear(); }

private:
	static void hook(void *ctx, int level, const char *, const char *line)
	{
		static_cast<LogCapture *>(ctx)->entries.push_back({level, line});
	}
};
