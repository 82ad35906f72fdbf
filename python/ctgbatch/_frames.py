"""DataFrames of the CSV text the compiled part returns."""

import io

import pandas

# Columns read as text whatever they hold: labels and identifiers that may
# look like numbers ("1", "01") and must keep their form.
_TEXT_COLUMNS = {
    "label",
    "ckt",
    "id",
    "name",
    "element",
    "note",
    "why",
    "tag",
    "kind",
    "status",
    "branch",
    "interface",
    "state",
    "type",
}


def frame(text):
    """One table: its header line the columns, empty fields NaN (text
    columns ""), numbers parsed to the last digit as written."""
    header = text.split("\n", 1)[0]
    columns = [c.strip() for c in header.split(",")] if header else []
    dtype = {c: str for c in columns if c in _TEXT_COLUMNS}
    df = pandas.read_csv(io.StringIO(text), dtype=dtype, keep_default_na=False, na_values=[""], float_precision="round_trip")
    for c in dtype:
        if c in df.columns:
            df[c] = df[c].fillna("")
    return df


def frames(tables):
    """Each CSV text of a dict made a DataFrame; other values kept."""
    return {k: frame(v) if isinstance(v, str) else v for k, v in tables.items()}
