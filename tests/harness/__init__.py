# The end-to-end harness; README.md says what each module does.
