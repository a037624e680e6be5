// Asks the billing server for the account's balance and shows it in the balance field. The
// request runs on the phone's worker, so the window keeps painting and the engine keeps working
// meanwhile; the answer (or the message saying why there is none) comes back in order.
#pragma once

struct Phone;

void QueryBalance(Phone& phone);
