"""OUTPUT_DIR/failures.csv: the cases of the last run that failed, with the error of each."""

import csv
import os

from ..formats.atomic import replacing

FILE_NAME = "failures.csv"
COLUMNS = ("case", "error_type", "message")


def write_failures(output_dir, rows):
    """Replaces the file with one line per failed row (after the header); returns its path.

    It is written on every run, so that it never lists failures that a later run has mended.
    """
    path = os.path.join(output_dir, FILE_NAME)
    with replacing(path) as temporary, open(temporary, "w", newline="", encoding="utf-8") as file:
        table = csv.writer(file)
        table.writerow(COLUMNS)
        table.writerows((row.case, row.error_type, row.message) for row in rows)
    return path
