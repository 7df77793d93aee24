#!/usr/bin/env bash
# Placeholder: replaced by the example run.
echo "demo: not yet"
