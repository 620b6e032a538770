"""Orvik MTSP Solver — C++ core bindings"""
