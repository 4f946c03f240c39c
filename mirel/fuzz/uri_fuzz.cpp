// URI parser: it accepts exactly what the URI expression matches, a parsed
// URI generates a text that parses to the same record, and the query and
// path lists survive any text.
#include <regex.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "coap_uri.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

const char kExpression[] = "^coap(s)?://([^:/?#]+)(:[0-9]{1,5})?(/[^?#]+)?/?(\\?[^#]+)?(#.+)?$";

bool same(const char *a, const char *b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static regex_t re;
    static bool compiled = regcomp(&re, kExpression, REG_EXTENDED) == 0;
    check(compiled);
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();  // up to the first NUL, as a C caller would pass it

    struct Uri uri;
    int rc = Uri_Parse(&uri, text.c_str());
    if (!text.empty()) {
        int saved = errno;
        regmatch_t m[7];
        bool matches = regexec(&re, text.c_str(), 7, m, 0) == 0;
        if (rc == 0) {
            check(matches);
        } else {
            check(saved == EBADE);
            // The expression also takes ports above 65535, which are refused.
            if (matches)
                check(m[3].rm_so >= 0 && std::strtoul(text.c_str() + m[3].rm_so + 1, nullptr, 10) > 65535);
        }
    }
    if (rc == 0) {
        char *gen = Uri_Gen(&uri);
        check(gen != nullptr);
        struct Uri back;
        check(Uri_Parse(&back, gen) == 0);
        check(back.secure == uri.secure && back.port == uri.port && same(back.host, uri.host));
        check(same(back.query, uri.query));
        Uri_ParseFree(&back);
        Mem_free(gen);

        if (uri.path) {
            struct Uri_PathHead path {};
            if (Uri_PathParse(uri.path, &path) == 0) {
                char *p = Uri_PathGen(&path);
                check(p != nullptr);
                Mem_free(p);
                Uri_PathHeadFree(&path);
            }
        }
        if (uri.query) {
            struct Uri_QueryHead query {};
            if (Uri_QueryParse(uri.query, &query, 1) == 0) {
                char *q = Uri_QueryGen(&query);
                check(q != nullptr);
                // Generated text is all escapes: it decodes back the same way.
                struct Uri_QueryHead again {};
                if (std::strcmp(q, "?") != 0)
                    check(Uri_QueryParse(q, &again, 1) == 0);
                Uri_QueryHeadFree(&again);
                Mem_free(q);
                Uri_QueryHeadFree(&query);
            }
        }
        Uri_ParseFree(&uri);
    }
    char *dec = Uri_StrDecode(text.c_str(), 0);
    Mem_free(dec);
    return 0;
}
