// Placeholder: this routine set has not landed yet.
