// Asks the billing server for the account's balance and shows it in the balance field. Blocks
// the window while it runs (bounded by the HTTPS client's time-outs).
#pragma once

struct Phone;

void QueryBalance(Phone& phone);
