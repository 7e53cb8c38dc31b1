// User interface layer.
