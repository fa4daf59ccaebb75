#include "launcher/updater_version.h"

#include "protocol/update_protocol.h"

bool IsUpdaterOffer(uint32_t offered, uint32_t own)
{
    return offered >= UPDATER_OFFER_MIN_VERSION && offered > own;
}
