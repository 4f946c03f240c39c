// Pools that own parsed and built documents.
#include "pool.h"

#include <new>

extern "C" {

zmo_pool_t *zmo_pool_new(void) { return new (std::nothrow) zmo_pool_t(); }

void zmo_pool_clear(zmo_pool_t *pool)
{
    if (!pool)
        return;
    pool->json.clear();
    pool->xml.clear();
}

void zmo_pool_free(zmo_pool_t *pool) { delete pool; }

}  // extern "C"
