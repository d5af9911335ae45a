#!/usr/bin/env python3
"""Writes data/sao.cty, the looper's city file, from the station list of
the Debian package weather-util-data (ISC licence, see
data/sao.cty.LICENSE).

Each station becomes one line that the looper reads with
"%20s %2s %2s %9s %s %f %f %f %d %d": name (blanks as "_"), state or
province ("--" when none), ISO country code ("--" when unknown), ICAO
identifier, priority, latitude, longitude, elevation (9999: unknown),
station number (-9999: none) and a spare 0.

The priority is 1 for international airports, 2 for other airports and
fields, 3 for the rest. Country names are matched against the iso-codes
package's table when it is installed, then against the names below.

Usage: scripts/make_cty.py [stations.gz] > data/sao.cty
"""
import gzip
import json
import math
import re
import sys

STATIONS = "/usr/share/weather-util/stations.gz"
ISO_TABLE = "/usr/share/iso-codes/json/iso_3166-1.json"

# Names of the station list that the ISO table spells otherwise.
COUNTRY_NAMES = {
    "united states of america": "US", "russia": "RU", "iran": "IR", "south korea": "KR",
    "north korea": "KP", "korea, south": "KR", "korea, north": "KP", "syria": "SY",
    "vietnam": "VN", "viet nam": "VN", "laos": "LA", "bolivia": "BO", "venezuela": "VE",
    "tanzania": "TZ", "moldova": "MD", "macedonia": "MK", "czech republic": "CZ",
    "taiwan": "TW", "brunei": "BN", "cape verde": "CV", "ivory coast": "CI",
    "cote d'ivoire": "CI", "democratic republic of the congo": "CD", "congo": "CG",
    "micronesia": "FM", "palestine": "PS", "swaziland": "SZ", "burma": "MM",
    "east timor": "TL", "vatican city": "VA", "falkland islands": "FK",
    "united kingdom": "GB", "great britain": "GB", "turkey": "TR", "macau": "MO",
    "reunion": "RE", "saint helena": "SH", "islas malvinas": "FK", "netherlands antilles": "CW",
    "serbia and montenegro": "RS", "xk": "XK", "virgin islands": "VI",
    "south georgia and the islands": "GS", "bahamas, the": "BS", "gambia, the": "GM",
    "macedonia, the republic of": "MK", "congo, democratic republic of the": "CD",
    "congo, republic of the": "CG",
}


def country_table():
    table = dict(COUNTRY_NAMES)
    try:
        with open(ISO_TABLE, encoding="utf-8") as f:
            for c in json.load(f)["3166-1"]:
                for key in ("name", "common_name", "official_name"):
                    if key in c:
                        table.setdefault(c[key].lower(), c["alpha_2"])
                table.setdefault(c["alpha_2"].lower(), c["alpha_2"])
    except OSError:
        print("make_cty: no %s, only the built-in names" % ISO_TABLE, file=sys.stderr)
    return table


def stations(path):
    """(identifier, description, latitude, longitude) of every located station."""
    record = {}
    with gzip.open(path, "rt", encoding="utf-8") as f:
        for line in list(f) + ["[end]"]:
            line = line.strip()
            if line.startswith("["):
                if "location" in record and record["location"] != "None":
                    lat, lon = (float(v) for v in record["location"].strip("()").split(","))
                    yield record["id"], record.get("description", ""), math.degrees(lat), math.degrees(lon)
                record = {"id": line.strip("[]")}
            elif " = " in line:
                key, value = line.split(" = ", 1)
                record[key] = value


def word(text, limit):
    """Blanks as "_", other awkward characters dropped, at most limit characters."""
    text = re.sub(r"[^A-Za-z0-9 .'/-]", "", text).strip()
    text = re.sub(r"\s*/\s*", " ", text)
    return re.sub(r"\s+", "_", text)[:limit].rstrip("_") or "-"


def split_description(description, countries, unknown):
    parts = [p.strip() for p in description.split(",")]
    if description.lower().startswith("unknown station"):
        return "", "--", "--"
    country = countries.get(parts[-1].lower())
    if country is None and len(parts) >= 2:
        country = countries.get(", ".join(parts[-2:]).lower())
        if country is not None:
            parts = parts[:-1]
    if country is None:
        unknown.add(parts[-1])
        country = "--"
    state = parts[-2] if len(parts) >= 3 and re.fullmatch(r"[A-Z]{2}", parts[-2]) else "--"
    return parts[0], state, country


def priority(description):
    if re.search(r"international|int'l", description, re.I):
        return 1
    if re.search(r"airport|field|airfield|air base|air force|\bab\b|afb", description, re.I):
        return 2
    return 3


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else STATIONS
    countries = country_table()
    unknown = set()
    out = sys.stdout
    out.write("# City file of the looper, made by scripts/make_cty.py from the station\n")
    out.write("# list of weather-util-data; see sao.cty.LICENSE for its ISC licence.\n")
    out.write("# name state country identifier priority lat lon elevation number spare\n")
    for ident, description, lat, lon in stations(path):
        name, state, country = split_description(description, countries, unknown)
        out.write("%-20s %2s %2s %-9s %d %8.4f %9.4f %4d %d %d\n" % (
            word(name, 20) if name else ident.upper(), state, country, ident.upper()[:9],
            priority(description), lat, lon, 9999, -9999, 0))
    if unknown:
        print("make_cty: countries without a code: %s" % ", ".join(sorted(unknown)), file=sys.stderr)


if __name__ == "__main__":
    main()
