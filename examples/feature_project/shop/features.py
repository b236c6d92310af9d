from tolva.features import feature, features


@features(name="customer", max_staleness="1d")
class Customer:
    # The customer's id in the shop database.
    # :owner: accounts-team
    # :tags: id, pii
    id: int

    # Lifetime spending, in cents.
    # :owner: billing-team
    # :tags: money
    lifetime_value: int = feature(max_staleness="1h", default=0)

    # Where the customer lives.
    # :tags: pii, geo
    country: str = feature(version=2)

    # Not documented: this comment block is separated by a blank line.

    signup_channel: str


@features
class Order:
    # :owner: orders-team
    total_cents: int
    currency: str = "EUR"
    item_count = feature(etl_offline_to_online=True)
