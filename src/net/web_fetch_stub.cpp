// Builds without a platform HTTP client: every mirror fails, the update servers carry on.
#include "net/web_fetch.h"

WEB_FETCH_RESULT WebFetch(const std::string&, const WEB_FETCH_OPTIONS&, WEB_FETCH_SINK*, std::string* reason)
{
    if (reason)
        *reason = "no mirror support in this build";
    return WEB_FETCH_RESULT::Failed;
}
