from tolva import offline, online

from .features import Customer, Order


@online(tags={"team": "accounts", "tier": "gold"}, owner="accounts-team")
def customer_country(customer_id: int, lookup_table: dict = None) -> str:
    if lookup_table is None:
        return "unknown"
    return lookup_table.get(customer_id, "unknown")


@offline(cron="1d", resource_hint={"cpu": 2, "memory": "4GB"})
def lifetime_value(orders):
    return sum(order.total_cents for order in orders)


def helper(value):
    return value * 2
