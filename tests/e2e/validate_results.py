#!/usr/bin/python3
"""Validates results files against the JSON Schema: validate_results.py SCHEMA FILE..."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is missing (make test installs it)")
    sys.exit(2)

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for path in sys.argv[2:]:
    for err in validator.iter_errors(json.load(open(path))):
        print(f"{path}: {'/'.join(map(str, err.path))}: {err.message}")
        bad += 1
sys.exit(1 if bad else 0)
