/* cloudagent: the resources the agent serves on its Mirel endpoint. */
#ifndef CLOUDAGENT_RESOURCES_H
#define CLOUDAGENT_RESOURCES_H

#include "mirel.h"

#ifdef __cplusplus
extern "C" {
#endif

int info_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int register_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int mirror_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int uhp_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int login_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int logout_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int ci_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int dis_handler(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);
int UhpGetHandler(struct Mirel *ep, struct CoAPMessage *response);

/* The eight resources, in the order they are registered: 0, or -1. */
int resources_register(struct Mirel *ep);

/* The Mirel code of an HTTP status: class in the top 3 bits, detail in the
 * low 5; statuses a code can't carry give their class's .00, or 5.00. */
int status_to_code(int status);

#ifdef __cplusplus
}
#endif

#endif
