"""fernkit: small file utilities shared by measurement tools."""

__version__ = "0.1.0"
